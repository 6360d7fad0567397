// Entry point of etiquem: annotates running text with the readings of a
// letter-transducer dictionary. Everything happens in the core library.

#include "cli/options.h"

int main(int argc, char** argv) { return etiquem::RunProgram(argc, argv); }
