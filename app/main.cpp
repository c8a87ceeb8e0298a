// Entry point. The window and the tracking come with the desktop interface layer; until then
// the program only confirms that the build works.
#include <cstdio>

int main() {
    std::puts("Navlume: built. The tracker window arrives with the desktop interface layer.");
    return 0;
}
