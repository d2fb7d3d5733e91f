// Control identifiers of the main window, shared by the dialog template and
// the window procedure.
#pragma once

#ifdef RC_INVOKED
#define IDC_ADDRESS 1000
#define IDC_USERNAME 1001
#define IDC_PASSWORD 1002
#define IDC_LOGON 1009
#define IDC_STATUS 1010
#define IDC_DUMP_SEL 1012
#define IDC_CLEAR_SEL 1013
#else
// IDC_STATUS (1010), the control the worker writes to, comes from the
// platform layer.
#include "platform.h"

const int IDC_ADDRESS = 1000;
const int IDC_USERNAME = 1001;
const int IDC_PASSWORD = 1002;
const int IDC_LOGON = 1009;
const int IDC_DUMP_SEL = 1012;
const int IDC_CLEAR_SEL = 1013;
static_assert(IDC_STATUS == 1010, "status line of the dialog template");
#endif
