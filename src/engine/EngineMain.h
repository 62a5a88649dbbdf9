// The engine's entry: command line, configuration, window, loop, teardown.
#pragma once

// Runs the engine with the process's arguments (argv[0] is the program).
int RunEngine(int argc, char** argv);
