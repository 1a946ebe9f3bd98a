// Progress bar control ("msctls_progress32") of the framework.
#pragma once

#include "CWnd.h"

class CProgressCtrl : public CWnd {
public:
    // PBM_SETRANGE: the bar runs from lower to upper.
    void SetRange(short lower, short upper);
    // PBM_SETPOS; returns the previous position.
    int SetPos(int position);
    // PBM_GETPOS.
    int GetPos() const;
};
