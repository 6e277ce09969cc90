#pragma once

#include <maya/MTypes.h>

class MString;

/// The result of a host call. Code 0 is success; every other code is a failure
/// with a fixed description.
class OPENMAYA_EXPORT MStatus {
public:
    enum MStatusCode {
        kSuccess = 0,  ///< The call did what was asked.
        kFailure = 1,  ///< The call failed; the caller has been told why, or may tell.
        kInsufficientMemory = 2,  ///< The host could not allocate what the call needed.
        kInvalidParameter = 3,  ///< An argument was out of range or malformed.
        kUnknownParameter = 5,  ///< A flag or name the host does not know.
        kNotImplemented = 6,  ///< The host does not offer this operation or format.
        kNotFound = 7,  ///< A file, command or plug-in that does not exist.
        kEndOfFile = 8,  ///< Input ended before the call was done.
    };

    /// Success.
    MStatus() = default;
    /// A status with the given code.
    MStatus(MStatusCode code)
        : code_(code)
    {
    }

    bool operator==(const MStatus& other) const { return code_ == other.code_; }
    bool operator!=(const MStatus& other) const { return code_ != other.code_; }
    bool operator==(MStatusCode code) const { return code_ == code; }
    bool operator!=(MStatusCode code) const { return code_ != code; }
    /// True for success.
    explicit operator bool() const { return code_ == kSuccess; }

    MStatusCode statusCode() const { return code_; }
    /// The fixed description of the code, for example "Unexpected Internal Failure".
    MString errorString() const;
    /// Writes one line "text: description" to standard error; the host also keeps
    /// it with the script editor's lines so that it can be inspected.
    void perror(const char* text = nullptr) const;
    void perror(const MString& text) const;

    /// Sets the code to kSuccess.
    void clear() { code_ = kSuccess; }

private:
    MStatusCode code_ = kSuccess;
};

inline bool operator==(MStatus::MStatusCode code, const MStatus& status)
{
    return status == code;
}
inline bool operator!=(MStatus::MStatusCode code, const MStatus& status)
{
    return status != code;
}

/// The status codes by their short names, as plug-ins usually write them:
/// `MS::kSuccess`, `MS::kFailure`.
namespace MS {
using MStatusCode = MStatus::MStatusCode;
inline constexpr MStatusCode kSuccess = MStatus::kSuccess;
inline constexpr MStatusCode kFailure = MStatus::kFailure;
inline constexpr MStatusCode kInsufficientMemory = MStatus::kInsufficientMemory;
inline constexpr MStatusCode kInvalidParameter = MStatus::kInvalidParameter;
inline constexpr MStatusCode kUnknownParameter = MStatus::kUnknownParameter;
inline constexpr MStatusCode kNotImplemented = MStatus::kNotImplemented;
inline constexpr MStatusCode kNotFound = MStatus::kNotFound;
inline constexpr MStatusCode kEndOfFile = MStatus::kEndOfFile;
}  // namespace MS
