// The version of the packaging tool and the commit it was built from.
#pragma once

// The project's version ("2.0"): the one number the build description names.
extern const char kToolVersion[];
// The abbreviated commit hash the program was built from, with "-modified"
// when tracked files differed from it; "unknown" when built outside git.
extern const char kToolCommit[];
