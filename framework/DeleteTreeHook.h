// A test's way into DeleteTree's walk, to change the tree at a chosen moment.
#pragma once

// Called with "<folder>\<name>" of each subfolder DeleteTree lists through the
// handle of a folder it has open, after that listing and before the subfolder
// is opened. Null (the default) calls nothing. Only tests set it: they swap a
// link in at exactly that moment and check that it is not followed.
using DeleteTreeHook = void (*)(const char* path);
void SetDeleteTreeHook(DeleteTreeHook hook);
