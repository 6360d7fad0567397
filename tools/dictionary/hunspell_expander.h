// A full-form lexicon generated from a hunspell spelling dictionary (an affix
// file and a word list) and a tag map written for the language.
//
// A spelling dictionary knows which words exist but not what they are: its
// affix flags only say how to inflect a stem. The tag map supplies the
// meaning: the tags of each rule line of an affix flag (a verb model's 84
// lines are its 84 cells), the tags of a stem that carries a flag, the tags
// of a word with no mapped flag (proper names, adverbs), and verb paradigms
// of its own for verbs the dictionary lists form by form. A paradigm only
// ever yields forms the spelling dictionary accepts, so every surface form
// written is one the speller knows. The format of the tag map is described
// in tools/README.md.
//
// Hand-written lexicons (function words, multiword units, directives) are
// copied first; a surface form they list keeps only their readings, so
// they also mend what the tag map would get wrong for a few frequent words.
// Generated readings of one form follow a stated order: part of speech in
// the tag map's `order`, then lemma, then the order they were made in
// (dictionary line, rule line).
//
// Prefix flags are never expanded: elided articles and pronouns (l', d')
// are words of their own in the hand-written lexicon, so that `l'home`
// reads as two pieces.

#ifndef ETIQUEM_TOOLS_DICTIONARY_HUNSPELL_EXPANDER_H_
#define ETIQUEM_TOOLS_DICTIONARY_HUNSPELL_EXPANDER_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace etiquem::dictionary {

// A named text: a file name for messages and its bytes.
struct NamedText {
  std::string name;
  std::string bytes;
};

// Counts from one expansion, for the tool's report and for tests.
struct ExpansionStats {
  size_t dictionary_words = 0;  // word lines of the word list read
  size_t skipped_words = 0;     // forbidden, or not writable in Latin-1
  size_t unmapped_words = 0;    // accepted words left without a reading
  size_t paradigm_verbs = 0;    // bare infinitives conjugated (paradigms or
                                // inferred model flags)
  size_t inferred_words = 0;    // bare words inflected by inferred flags
  size_t generated = 0;         // generated readings written
  size_t overridden = 0;        // generated readings dropped for a
                                // hand-written form
  size_t handwritten = 0;       // entry lines copied from the lexicons
};

// Expands `dic` with the affix rules of `aff` and the tags of `map`, and
// writes a UTF-8 full-form lexicon to `out`: the hand-written `lexicons`
// first, then the generated entries sorted by surface form. On failure
// returns false with `error` set to one line "Error: FILE:LINE: what".
bool ExpandHunspell(const NamedText& aff, const NamedText& dic,
                    const NamedText& map,
                    const std::vector<NamedText>& lexicons, std::string& out,
                    std::string& error, ExpansionStats* stats = nullptr);

}  // namespace etiquem::dictionary

#endif  // ETIQUEM_TOOLS_DICTIONARY_HUNSPELL_EXPANDER_H_
