#include "depthFunction.h"

#include "commandSteps.h"
#include "pixelBlocks.h"

#include <maya/MArgDatabase.h>
#include <maya/MImage.h>
#include <maya/MIntArray.h>

depthFunction::~depthFunction() = default;

void* depthFunction::creator()
{
    return new depthFunction;
}

MSyntax depthFunction::newSyntax()
{
    MSyntax syntax;
    syntax.addFlag("-f", "-file", MSyntax::kString);
    syntax.addFlag("-x", "-xcoord", MSyntax::kDouble);
    syntax.addFlag("-y", "-ycoord", MSyntax::kDouble);
    return syntax;
}

MStatus depthFunction::doIt(const MArgList& args)
{
    MStatus stat = MS::kSuccess;
    MArgDatabase parser(syntax(), args, &stat);
    if (!stat)
        return stat;  // the host has shown why

    MImage image;
    pictile::BlockGrid grid {};
    stat = pictile::loadImageInBlocks(parser, "Size failed!", image, grid);
    if (!stat)
        return stat;  // error already shown

    MIntArray result;
    pictile::reserveValues(result, grid);
    pictile::sampleBlockRows(image.pixels(), grid, pictile::appendTo(result));
    clearResult();
    setResult(result);
    return stat;
}
