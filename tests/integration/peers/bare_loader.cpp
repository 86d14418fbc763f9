// Loads a library by its bare name, as a program that trusts the search order would, and
// tells by its exit code whether one was loaded. Usage: bare_loader <library name>
#include <windows.h>

int main(int argc, char** argv)
{
    return argc == 2 && LoadLibraryA(argv[1]) ? 0 : 1;
}
