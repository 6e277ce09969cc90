#pragma once

#include <maya/MArgDatabase.h>
#include <maya/MImage.h>
#include <maya/MIntArray.h>
#include <maya/MStatus.h>
#include <maya/MString.h>

#include "pixelBlocks.h"

#include <cstdint>

// The steps the image commands share. Each step shows its own error line and
// returns the failure status; a caller just returns what a failing step gave.

namespace pictile {

/// Pixel columns and rows per block.
struct BlockSteps {
    std::uint32_t sectionWidth = 10;
    std::uint32_t sectionHeight = 10;
};

/// Reads the first argument of -f into `filename`, or shows "No file flag!".
MStatus requireFileFlag(const MArgDatabase& parser, MString& filename);

/// Reads -x and -y into `steps`. Without either, shows the default-steps line and
/// keeps 10 by 10; a flag that is missing while the other is given keeps 10. A
/// step that is 0 or not an unsigned whole number shows "Block steps must be at
/// least 1!".
MStatus chooseBlockSteps(const MArgDatabase& parser, BlockSteps& steps);

/// Reads the image at `filename`, or shows the path followed by " does not exist!".
MStatus loadImage(MImage& image, const MString& filename);

/// Asks the image for its size; shows `sizeMessage` when that fails or either side
/// is below 10 pixels.
MStatus checkImageSize(
    const MImage& image, unsigned int& width, unsigned int& height, const char* sizeMessage);

/// Resizes the image to whole blocks when its size is not already a whole multiple
/// of the steps, and gives the fitted size; shows "Cant resize image!" when the
/// host refuses the resize.
MStatus fitToBlocks(MImage& image, unsigned int width, unsigned int height, const BlockSteps& steps,
    unsigned int& fittedWidth, unsigned int& fittedHeight);

/// The steps of the block commands, in order: require the file flag, choose block
/// steps, load the image, check its size (showing `sizeMessage`) and fit it to
/// blocks. On success `grid` describes the fitted image and the status is that of
/// the size query.
MStatus loadImageInBlocks(
    const MArgDatabase& parser, const char* sizeMessage, MImage& image, BlockGrid& grid);

/// Lets `result` take every value of `grid` at once: growing by doubling would
/// hold the old and the new array together, half as much again as the result.
void reserveValues(MIntArray& result, const BlockGrid& grid);

/// Appends each row of block values to `result` as the kernel hands it over, so
/// that the whole result is never held twice.
BlockRowSink appendTo(MIntArray& result);

}  // namespace pictile
