#include "commandSteps.h"

#include <maya/MGlobal.h>

#include <limits>

namespace pictile {

namespace {

// A step the host cannot read as an unsigned number, or a step of 0, would leave
// the block fitting without a divisor.
bool readBlockStep(const MArgDatabase& parser, const char* flag, std::uint32_t& step)
{
    if (!parser.isFlagSet(flag))
        return true;
    unsigned int value = 0;
    if (!parser.getFlagArgument(flag, 0, value))
        return false;
    step = value;
    return step >= 1;
}

}  // namespace

MStatus requireFileFlag(const MArgDatabase& parser, MString& filename)
{
    if (!parser.isFlagSet("-f")) {
        MGlobal::displayError("No file flag!");
        return MS::kFailure;
    }
    parser.getFlagArgument("-f", 0, filename);
    return MS::kSuccess;
}

MStatus chooseBlockSteps(const MArgDatabase& parser, BlockSteps& steps)
{
    if (!parser.isFlagSet("-x") && !parser.isFlagSet("-y")) {
        MGlobal::displayInfo("no x, y coordianates specified - using default: 10x10");
        return MS::kSuccess;
    }
    if (!readBlockStep(parser, "-x", steps.sectionWidth)
        || !readBlockStep(parser, "-y", steps.sectionHeight)) {
        MGlobal::displayError("Block steps must be at least 1!");
        return MS::kFailure;
    }
    return MS::kSuccess;
}

MStatus loadImage(MImage& image, const MString& filename)
{
    MStatus stat = image.readFromFile(filename);
    if (!stat) {
        MGlobal::displayError(filename + " does not exist!");
        return MS::kFailure;
    }
    return stat;
}

MStatus checkImageSize(
    const MImage& image, unsigned int& width, unsigned int& height, const char* sizeMessage)
{
    MStatus stat = image.getSize(width, height);
    if (!stat || width < 10 || height < 10) {
        MGlobal::displayError(sizeMessage);
        return MS::kFailure;
    }
    return stat;
}

MStatus fitToBlocks(MImage& image, unsigned int width, unsigned int height, const BlockSteps& steps,
    unsigned int& fittedWidth, unsigned int& fittedHeight)
{
    fittedWidth = width;
    fittedHeight = height;
    if (width % steps.sectionWidth == 0 && height % steps.sectionHeight == 0)
        return MS::kSuccess;

    // A step larger than the image gives a side of 0, which the host refuses.
    fittedWidth = fittedLength(width, steps.sectionWidth);
    fittedHeight = fittedLength(height, steps.sectionHeight);
    if (!image.resize(static_cast<int>(fittedWidth), static_cast<int>(fittedHeight), false)) {
        MGlobal::displayError("Cant resize image!");
        return MS::kFailure;
    }
    return MS::kSuccess;
}

MStatus loadImageInBlocks(const MArgDatabase& parser, const char* sizeMessage, MImage& image, BlockGrid& grid)
{
    MString filename;
    MStatus stat = requireFileFlag(parser, filename);
    if (!stat)
        return stat;  // error already shown
    BlockSteps steps;
    stat = chooseBlockSteps(parser, steps);
    if (!stat)
        return stat;  // error already shown
    stat = loadImage(image, filename);
    if (!stat)
        return stat;  // error already shown
    unsigned int width = 0;
    unsigned int height = 0;
    stat = checkImageSize(image, width, height, sizeMessage);
    if (!stat)
        return stat;  // error already shown
    unsigned int fittedWidth = 0;
    unsigned int fittedHeight = 0;
    const MStatus fitted = fitToBlocks(image, width, height, steps, fittedWidth, fittedHeight);
    if (!fitted)
        return fitted;  // error already shown
    grid = BlockGrid { fittedWidth, fittedHeight, steps.sectionWidth, steps.sectionHeight };
    return stat;
}

void reserveValues(MIntArray& result, const BlockGrid& grid)
{
    // The array's length is an unsigned int; a larger count grows as it goes.
    const std::size_t count = blockValueCount(grid);
    if (count <= std::numeric_limits<unsigned int>::max())
        result.setSizeIncrement(static_cast<unsigned int>(count));
}

BlockRowSink appendTo(MIntArray& result)
{
    return [&result](const int* values, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            result.append(values[i]);
    };
}

}  // namespace pictile
