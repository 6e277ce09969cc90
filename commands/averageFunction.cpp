#include "averageFunction.h"

#include "commandSteps.h"
#include "pixelBlocks.h"

#include <maya/MArgDatabase.h>
#include <maya/MImage.h>
#include <maya/MIntArray.h>
#include <maya/MString.h>

averageFunction::~averageFunction() = default;

void* averageFunction::creator()
{
    return new averageFunction;
}

MSyntax averageFunction::newSyntax()
{
    MSyntax syntax;
    syntax.addFlag("-f", "-file", MSyntax::kString);
    syntax.addFlag("-g", "-grey", MSyntax::kNoArg);
    syntax.addFlag("-x", "-xcoord", MSyntax::kDouble);
    syntax.addFlag("-y", "-ycoord", MSyntax::kDouble);
    return syntax;
}

MStatus averageFunction::doIt(const MArgList& args)
{
    MStatus stat = MS::kSuccess;
    MArgDatabase parser(syntax(), args, &stat);
    if (!stat)
        return stat;  // the host has shown why

    MString filename;
    MImage image;
    MIntArray result;
    stat = pictile::requireFileFlag(parser, filename);
    if (!stat)
        return stat;  // error already shown
    pictile::BlockSteps steps;
    stat = pictile::chooseBlockSteps(parser, steps);
    if (!stat)
        return stat;  // error already shown
    stat = pictile::loadImage(image, filename);
    if (!stat)
        return stat;  // error already shown
    unsigned int width = 0;
    unsigned int height = 0;
    stat = pictile::checkImageSize(image, width, height, "cant get size!");
    if (!stat)
        return stat;  // error already shown
    unsigned int fittedWidth = 0;
    unsigned int fittedHeight = 0;
    MStatus fitted = pictile::fitToBlocks(image, width, height, steps, fittedWidth, fittedHeight);
    if (!fitted)
        return fitted;  // error already shown

    const pictile::BlockGrid grid { fittedWidth, fittedHeight, steps.sectionWidth, steps.sectionHeight };
    const bool grey = parser.isFlagSet("-g");
    for (int value : pictile::averageBlocks(image.pixels(), grid, grey))
        result.append(value);
    clearResult();
    setResult(result);
    return stat;
}
