// The suite banner that every tool of the suite prints first.
#include "LiDAR.h"

#include <cstdio>

extern "C" void credits(void) {
    std::fputs("\nVintrel LiDAR Utilities", stdout);
    std::fputs("\n\nDeveloped and maintained by the Vintrel LiDAR Utilities maintainers", stdout);
    std::fputs("\nThe Tessvane project", stdout);
    std::fputs("\nmaintainers@tessvane.example", stdout);
    std::fputs("\n\n** No warranty regarding script behavior is given or implied **", stdout);
    std::fputs("\n** Acknowledging the author's efforts ensures script updates and availability **\n", stdout);
}
