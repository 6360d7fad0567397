// Full-form lexicons compiled into the compiler's transducer.
//
// A lexicon lists one analysis per line: surface form, lexical form (with
// tags written <tag>) and an optional kind of reading. Entries become paths
// of (input, output) pairs in a trie: one consuming move per surface byte,
// then the rest of the lexical form and its tags on epsilon moves. The trie
// is then minimised bottom-up by hash-consing, which is linear in its size,
// so lexicons of several hundred thousand entries compile in seconds.
//
// Reading order. The matcher lists the readings of a word in the order of its
// live paths: consuming paths in move order, then the epsilon closure
// breadth-first, i.e. by the number of epsilon moves taken. So the epsilon
// tails of the analyses of one form are padded to one length with moves that
// write nothing, and an analysis that an earlier form's branch would put
// first gets a branch of its own after its predecessor's. Then the readings
// of every form come out in the order of the source.

#ifndef ETIQUEM_TOOLS_DICTIONARY_LEXICON_H_
#define ETIQUEM_TOOLS_DICTIONARY_LEXICON_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "dictionary/automaton_writer.h"
#include "dictionary/encoding.h"

namespace etiquem::dictionary {

// The name of the symbol that the `@whole-words` directive adds to the
// automaton's symbol table, on no move: it tells etiquem to let unknown-word
// readings compete on length with analyses (see tools/README.md). A tag may
// not have this name.
inline constexpr const char* kWholeWords = "@whole-words";

// Counts from one compilation, for the tool's report and for tests.
struct LexiconStatistics {
  size_t entries = 0;         // entry lines read
  size_t repeats = 0;         // entries dropped as exact repeats
  size_t forms = 0;           // distinct surface forms
  size_t padded_forms = 0;    // forms whose epsilon tails were padded
  size_t padding_moves = 0;   // padding moves added to the trie
  size_t order_branches = 0;  // branches made only to keep reading order
  size_t trie_nodes = 0;      // trie states before minimising
  Encoding encoding = Encoding::kLatin1;  // as read
};

// Compiles the lexicon `bytes`; `name` names the file in messages. On failure
// returns false and sets `error` to one line "Error: NAME:LINE: what".
bool CompileLexicon(const std::string& name, std::string_view bytes,
                    Encoding encoding, Transducer& a, std::string& error,
                    LexiconStatistics* statistics = nullptr);

}  // namespace etiquem::dictionary

#endif  // ETIQUEM_TOOLS_DICTIONARY_LEXICON_H_
