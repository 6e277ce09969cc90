#include "averageFunction.h"

#include "commandSteps.h"
#include "pixelBlocks.h"

#include <maya/MArgDatabase.h>
#include <maya/MImage.h>
#include <maya/MIntArray.h>

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

    MImage image;
    pictile::BlockGrid grid {};
    stat = pictile::loadImageInBlocks(parser, "cant get size!", image, grid);
    if (!stat)
        return stat;  // error already shown

    MIntArray result;
    pictile::reserveValues(result, grid);
    pictile::averageBlockRows(image.pixels(), grid, parser.isFlagSet("-g"), pictile::appendTo(result));
    clearResult();
    setResult(result);
    return stat;
}
