// Placeholder.
#include <cstdio>
int main() { std::fputs("etiquem-dic: not built yet\n", stderr); return 1; }
