// Static text control of the framework.
#pragma once

#include "CWnd.h"

class CStatic : public CWnd {};
