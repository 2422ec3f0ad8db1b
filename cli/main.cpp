// main.cpp - the quillaro-cli program: the command line on the standard
// streams.
#include "cli.h"

int main(int argc, char** argv)
{
    return CliMain(argc, argv, stdout, stderr);
}
