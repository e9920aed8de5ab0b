#include "cli/run_cli.h"

int main(int argc, char** argv) { return launcher::RunCli(argc, argv); }
