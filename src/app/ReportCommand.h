#pragma once

// The monthly report from the command line, without a window:
//   ZYRdenetleyici --report YYYY-MM [--format csv|html] [--output FILE]
// True when the arguments ask for it: the program then runs nothing else.
bool IsReportCommand(int argc, char **argv);
// Makes the report and returns the exit status: 0, or 2 with a message on standard error. Takes no lock,
// makes no folder and writes no log line; the database is only read.
int RunReportCommand(int argc, char **argv);
