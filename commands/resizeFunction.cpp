#include "resizeFunction.h"

#include "commandSteps.h"

#include <maya/MArgDatabase.h>
#include <maya/MGlobal.h>
#include <maya/MImage.h>
#include <maya/MString.h>
#include <maya/MStringArray.h>

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <string>
#include <system_error>

namespace {

const char* const kDirectoryList = "F:/Dovrin's Documents/My Images/DIRlist.txt";
const char* const kOutputFolder = "F:/Dovrin's Documents/My Images/Resized/";

// No path here is longer than this; a longer word is no name at all.
constexpr std::streamsize kLongestName = 4096;

// Only a regular file is read as the list: a FIFO, a device or a folder would
// block the open or never end, so it counts as a list that could not be opened.
bool listIsRegularFile()
{
    std::error_code error;
    return std::filesystem::is_regular_file(kDirectoryList, error);
}

// Reads the names to process: one fewer than the count, as scripts have always
// passed it. A read past the end of the list, from a list that could not be
// opened, or of a word too long to be a name gives the empty name; every later
// read would give the same, and the batch stops at the first empty name, so
// reading stops there too.
MStringArray readDirectoryList(int noOfFiles)
{
    MStringArray fileList;
    std::ifstream ifs;
    if (listIsRegularFile())
        ifs.open(kDirectoryList, std::ios::in);
    for (int index = 0; index != noOfFiles - 1; ++index) {
        std::string word;
        // One character past the limit tells a word at the limit from a longer one
        // without holding more than that.
        if (!(ifs >> std::setw(kLongestName + 1) >> word) || std::streamsize(word.size()) > kLongestName) {
            fileList.append(MString());
            break;
        }
        fileList.append(MString(word));
    }
    return fileList;
}

// The listed name without its last four characters: the extension of names such
// as photo.jpg. substring keeps both ends, hence length - 5.
MString baseNameOf(const MString& fileName)
{
    return fileName.substring(0, static_cast<int>(fileName.length()) - 5);
}

// A base name is written only if it names a file of its own inside the output
// folder: subfolders are fine as long as ".." never climbs above the folder, and
// the file's own part must not be empty (a name of four characters or fewer, or
// one ending in a slash, would write the hidden file ".iff" that every such name
// shares).
bool staysInsideOutputFolder(const MString& newName)
{
    const std::string name(newName.asChar(), newName.length());
    int depth = 0;
    std::string::size_type start = 0;
    while (true) {
        const std::string::size_type slash = name.find('/', start);
        const std::string part
            = name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (slash == std::string::npos)
            return !part.empty();
        if (part == "..") {
            if (--depth < 0)
                return false;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        start = slash + 1;
    }
}

// Loads, resizes and writes one listed image; shows the error of the first step
// that fails.
MStatus convertImage(MImage& image, const MString& dirList, const MString& fileName, unsigned int resize)
{
    // An empty name stands for one the list did not have: it names no image, even
    // when the folder argument on its own would.
    MStatus stat = fileName.length() == 0 ? MStatus(MS::kNotFound) : image.readFromFile(dirList + fileName);
    if (!stat) {
        MGlobal::displayError(dirList + fileName + " does not exist!");
        return MS::kFailure;
    }
    unsigned int w = 0;
    unsigned int h = 0;
    stat = image.getSize(w, h);
    if (!stat) {
        MGlobal::displayError("Size failed!");
        return MS::kFailure;
    }
    // An image whose pixel count already equals the size value keeps its size;
    // any other becomes a square of half the value, whatever its proportions.
    if (w * h != resize) {
        const int side = static_cast<int>(resize >> 1);
        stat = image.resize(side, side, false);
        if (!stat) {
            MGlobal::displayError("resizing failed!");
            return MS::kFailure;
        }
    }
    const MString newName = baseNameOf(fileName);
    if (staysInsideOutputFolder(newName))
        stat = image.writeToFile(MString(kOutputFolder) + newName + ".iff", "iff");
    else
        stat = MS::kInvalidParameter;
    if (!stat) {
        MGlobal::displayError("cant write to file!");
        return MS::kFailure;
    }
    return stat;
}

}  // namespace

resizeFunction::~resizeFunction() = default;

void* resizeFunction::creator()
{
    return new resizeFunction;
}

MSyntax resizeFunction::newSyntax()
{
    MSyntax syntax;
    syntax.addFlag("-f", "-folder", MSyntax::kString);
    syntax.addFlag("-s", "-size", MSyntax::kLong);
    syntax.addFlag("-n", "-number", MSyntax::kLong);
    syntax.addFlag("-d", "-directory", MSyntax::kString);
    return syntax;
}

MStatus resizeFunction::doIt(const MArgList& args)
{
    MStatus stat = MS::kSuccess;
    MArgDatabase parser(syntax(), args, &stat);
    if (!stat)
        return stat;  // the host has shown why

    MString dirList;
    unsigned int resize = 0;
    int noOfFiles = 0;
    if (!parser.isFlagSet("-f") || !parser.isFlagSet("-n") || !parser.getFlagArgument("-s", 0, resize)) {
        MGlobal::displayError("missing required param");
        return MS::kFailure;
    }
    parser.getFlagArgument("-f", 0, dirList);
    parser.getFlagArgument("-n", 0, noOfFiles);
    // The reading loop runs until it has read count - 1 names; a count below 1
    // would never get there.
    if (noOfFiles < 1) {
        MGlobal::displayError("-number must be at least 1!");
        return MS::kFailure;
    }

    // The whole list is read, and the list file closed, before any image is touched.
    const MStringArray fileList = readDirectoryList(noOfFiles);
    MImage image;
    for (unsigned int index = 0; index != fileList.length(); ++index) {
        stat = convertImage(image, dirList, fileList[index], resize);
        if (!stat)
            return stat;  // error already shown; earlier outputs stay
    }
    clearResult();
    setResult(fileList);
    return stat;
}
