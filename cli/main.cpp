// main.cpp - the quillaro-cli program: the command line on the standard
// streams.
#include "cli/cli.h"
#include "cli/cli_platform.h"

#ifdef _WIN32
// Windows shells leave wildcards to the program: expand "*.swf" and the
// like in the arguments, as Unix shells do, before main runs.
int _dowildcard = -1;
#endif

int main(int argc, char** argv)
{
    UseUtf8Console();
    InstallInterruptCleanup();
    KeepFreedMemory();
    return CliMain(argc, argv, stdout, stderr);
}
