// The launcher's one application object.
#include "LauncherApp.h"

LauncherApp theApp;
