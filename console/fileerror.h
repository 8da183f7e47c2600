#pragma once

#include <QString>

// Why a file could not be written, in the operator's words, from the system's error number.
QString fileErrorText(int errnum);
