#include "queryFunction.h"

#include "commandSteps.h"

#include <maya/MArgDatabase.h>
#include <maya/MImage.h>
#include <maya/MString.h>

queryFunction::~queryFunction() = default;

void* queryFunction::creator()
{
    return new queryFunction;
}

MSyntax queryFunction::newSyntax()
{
    MSyntax syntax;
    syntax.addFlag("-f", "-file", MSyntax::kString);
    // Both query flags share one long name; the host keeps it for the first.
    syntax.addFlag("-qX", "-queryMode", MSyntax::kNoArg);
    syntax.addFlag("-qY", "-queryMode", MSyntax::kNoArg);
    return syntax;
}

MStatus queryFunction::doIt(const MArgList& args)
{
    MStatus stat = MS::kSuccess;
    MArgDatabase parser(syntax(), args, &stat);
    if (!stat)
        return stat;  // the host has shown why

    MString filename;
    MImage image;
    stat = pictile::requireFileFlag(parser, filename);
    if (!stat)
        return stat;  // error already shown
    stat = pictile::loadImage(image, filename);
    if (!stat)
        return stat;  // error already shown
    unsigned int width = 0;
    unsigned int height = 0;
    stat = pictile::checkImageSize(image, width, height, "Size failed!");
    if (!stat)
        return stat;  // error already shown

    // With both flags the height is set last and so is the result.
    if (parser.isFlagSet("-qX"))
        setResult(static_cast<int>(width));
    if (parser.isFlagSet("-qY"))
        setResult(static_cast<int>(height));
    return stat;
}
