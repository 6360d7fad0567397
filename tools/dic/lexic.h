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

#ifndef ETIQUEM_TOOLS_DIC_LEXIC_H_
#define ETIQUEM_TOOLS_DIC_LEXIC_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "dic/automat_dic.h"
#include "dic/codificacio.h"

namespace etiquem::dic {

// Counts from one compilation, for the tool's report and for tests.
struct EstadistiquesLexic {
  size_t entrades = 0;           // entry lines read
  size_t repetides = 0;          // entries dropped as exact repeats
  size_t formes = 0;             // distinct surface forms
  size_t formes_farcides = 0;    // forms whose epsilon tails were padded
  size_t moviments_farcits = 0;  // padding moves added to the trie
  size_t branques_ordre = 0;     // branches made only to keep reading order
  size_t nodes_trie = 0;         // trie states before minimising
  Codificacio codificacio = Codificacio::kLatin1;  // as read
};

// Compiles the lexicon `bytes`; `nom` names the file in messages. On failure
// returns false and sets `error` to one line "Error: NAME:LINE: what".
bool CompilaLexic(const std::string& nom, std::string_view bytes,
                  Codificacio codificacio, AutomatDic& a, std::string& error,
                  EstadistiquesLexic* estadistiques = nullptr);

}  // namespace etiquem::dic

#endif  // ETIQUEM_TOOLS_DIC_LEXIC_H_
