// The usage text that -h writes and the hint after a bad option, as the
// tests expect them: stated here apart from the program's own copy
// (src/engine/messages.h), so that a change to either shows. Latin-1 bytes.

#ifndef ETIQUEM_TESTS_USAGE_TEXT_H_
#define ETIQUEM_TESTS_USAGE_TEXT_H_

namespace etiquem::test_support {

inline constexpr char kUsageText[] =
    "Forma de uso: etiquem [OPCIONES] [FICHEROS]\n"
    "  -f: Analiza el contenido de un fichero ASCII\n"
    "      Necesita el nombre del fichero a analizar\n"
    "  -s: Muestra la forma superficial\n"
    "  -m: Marca las palabras desconocidas\n"
    "  -d: Genera un fichero con las palabras desconocidas para el analizador\n"
    "      morfol\xf3gico. Necesita el nombre del fichero\n"
    "  -a: Genera un espacio en blanco despu\xe9s de una forma apostrofada\n"
    "  -b: Lee el aut\xf3mata del fichero binario que se le pasa como "
    "par\xe1metro\n"
    "  sin opciones: Analiza la entrada est\xe1ndar y lee el fichero binario "
    "por defecto\n"
    "  -h: Imprime esta ayuda\n";

inline constexpr char kUsageHint[] =
    "Utilice 'etiquem -h' para obtener m\xe1s informaci\xf3n\n";

}  // namespace etiquem::test_support

#endif  // ETIQUEM_TESTS_USAGE_TEXT_H_
