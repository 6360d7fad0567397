// A program outside the project, built against the installed library: it
// annotates standard input with the dictionary named on its command line,
// then lists the first lemma of each reading.

#include <etiquem/etiquem.h>
#include <etiquem/structured.h>

#include <iostream>
#include <iterator>
#include <string>

namespace {

struct Lemmas {
  etiquem::ReadingsView view;
  std::string out;
};

bool ListLemmas(void* context, const etiquem::Batch& batch) {
  Lemmas& l = *static_cast<Lemmas*>(context);
  for (const etiquem::Event& e : batch.events) {
    l.view.Clear();
    if (etiquem::AppendReadings(batch, e, &l.view) == 0) continue;
    const etiquem::LemmaTags& g = l.view.groups[l.view.readings[0].first_group];
    l.out += l.view.lemmas.substr(g.lemma_begin, g.lemma_end - g.lemma_begin);
    l.out += '\n';
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  etiquem::Error error;
  auto dictionary = etiquem::Dictionary::Load(argv[1], &error);
  if (!dictionary) {
    std::cerr << error.message;
    return error.status;
  }
  const std::string text(std::istreambuf_iterator<char>(std::cin), {});
  std::string annotated;
  error = etiquem::AnnotateBytes(*dictionary, {}, text, &annotated);
  if (error.failed()) return error.status;
  std::cout << annotated;
  Lemmas lemmas;
  etiquem::Options options;
  options.events = true;
  etiquem::Input input;
  input.bytes = text;
  etiquem::Analysis analysis(dictionary, options, input, ListLemmas, &lemmas);
  if (analysis.Advance(UINT64_MAX).reached != etiquem::Reached::kEnd) return 1;
  std::cout << lemmas.out;
  return 0;
}
