// Running script text through the host's script engine, and the scene's unit scale.
#pragma once

#include "host/max_types.h"

class FPValue;

// Runs the script to its end; answers FALSE when it failed. With quietErrors the host shows no
// error; fpv, when given, receives the script's value.
BOOL ExecuteMAXScriptScript(const MCHAR* script, BOOL quietErrors = FALSE, FPValue* fpv = nullptr);

// Unit types for GetMasterScale.
constexpr int UNITS_INCHES = 0;
constexpr int UNITS_FEET = 1;
constexpr int UNITS_MILES = 2;
constexpr int UNITS_MILLIMETERS = 3;
constexpr int UNITS_CENTIMETERS = 4;
constexpr int UNITS_METERS = 5;
constexpr int UNITS_KILOMETERS = 6;

// The length of one system unit expressed in the given unit type.
double GetMasterScale(int type);
