#pragma once

// The program body: log, single instance, windows in their order, event loop, log closed last.
int RunProgram(int argc, char **argv);
