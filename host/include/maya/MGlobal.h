#pragma once

#include <maya/MString.h>

/// Messages for the user, one line each on the script editor, in call order.
class OPENMAYA_EXPORT MGlobal {
public:
    static void displayError(const MString& message);
    static void displayWarning(const MString& message);
    static void displayInfo(const MString& message);
};
