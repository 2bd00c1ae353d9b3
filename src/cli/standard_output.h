// Standard output closed at the end of every program's run, the one way
// its failure is told.
#ifndef KNOTFIT_CLI_STANDARD_OUTPUT_H
#define KNOTFIT_CLI_STANDARD_OUTPUT_H

// Closes standard output; on a failure says "PROGRAM: write error on
// standard output: REASON" on standard error and returns false. A failed
// write before it counts too: first_error is the errno it left (0: none, or
// not known), and names the reason when the close itself gives none.
bool CloseStandardOutput(const char *program, int first_error = 0);

#endif
