#pragma once

#include <maya/MArgList.h>
#include <maya/MIntArray.h>
#include <maya/MStatus.h>
#include <maya/MString.h>
#include <maya/MStringArray.h>
#include <maya/MSyntax.h>

namespace host {
class CommandAccess;
}

/// Base class of a script command. The host creates one object per invocation
/// with the command's creator, calls `doIt` once and deletes the object through
/// the virtual destructor.
class OPENMAYA_EXPORT MPxCommand {
public:
    MPxCommand() = default;
    MPxCommand(const MPxCommand&) = delete;
    MPxCommand& operator=(const MPxCommand&) = delete;
    virtual ~MPxCommand();

    /// Does the command's work. The base returns kNotImplemented.
    virtual MStatus doIt(const MArgList& args);
    /// The base returns kNotImplemented.
    virtual MStatus undoIt();
    /// The base returns kNotImplemented.
    virtual MStatus redoIt();
    /// The base returns false: nothing is kept for undo.
    virtual bool isUndoable() const;
    /// The base returns true: the host parses against `syntax()`.
    virtual bool hasSyntax() const;

    /// The syntax the host built, once per registration, from the command's
    /// syntax function; empty when it registered none.
    MSyntax syntax() const;

    /// Clears the result of the running command: it then has none.
    static void clearResult();
    /// Sets the result of the running command; the last call wins. Outside a
    /// running command these do nothing.
    static void setResult(int value);
    static void setResult(unsigned int value);
    static void setResult(double value);
    static void setResult(bool value);
    static void setResult(const char* value);
    static void setResult(const MString& value);
    static void setResult(const MIntArray& value);
    static void setResult(const MStringArray& value);

private:
    friend class host::CommandAccess;
    const MSyntax* syntax_ = nullptr;
};
