#include "HostFixture.h"

#include <maya/MArgList.h>

#include <random>

namespace pictile::test {

void HostFixture::SetUp()
{
    previousFolder_ = std::filesystem::current_path();
    std::random_device seed;
    scratch_ = std::filesystem::temp_directory_path() / ("pictile-test-" + std::to_string(seed()));
    std::filesystem::create_directories(scratch_);
    std::filesystem::current_path(scratch_);
    loader = std::make_unique<host::PluginLoader>(registry);
    host::ScriptEditor::take();
}

void HostFixture::TearDown()
{
    loader.reset();
    host::ScriptEditor::take();
    std::filesystem::current_path(previousFolder_);
    std::filesystem::remove_all(scratch_);
}

host::PluginLoader::LoadOutcome HostFixture::loadPictile()
{
    host::PluginLoader::LoadOutcome outcome = loader->load(PICTILE_PLUGIN_PATH);
    lines = host::ScriptEditor::take();
    return outcome;
}

host::Invocation HostFixture::run(const std::string& command, const std::vector<std::string>& args)
{
    MArgList argList;
    for (const std::string& arg : args)
        argList.addArg(MString(arg));
    host::Invocation invocation = registry.run(command, argList);
    lines = host::ScriptEditor::take();
    return invocation;
}

void HostFixture::writeImage(const std::string& path, unsigned int width, unsigned int height,
    const PixelFunction& pixelAt, const char* format)
{
    MImage image;
    ASSERT_TRUE(image.create(width, height));
    unsigned char* pixel = image.pixels();
    for (unsigned int y = 0; y < height; ++y) {
        for (unsigned int x = 0; x < width; ++x, pixel += 4) {
            const Rgba value = pixelAt(x, y);
            pixel[0] = value.r;
            pixel[1] = value.g;
            pixel[2] = value.b;
            pixel[3] = value.a;
        }
    }
    ASSERT_TRUE(image.writeToFile(MString(path), MString(format))) << path;
}

MImage HostFixture::readImage(const std::string& path)
{
    MImage image;
    EXPECT_TRUE(image.readFromFile(MString(path))) << path;
    return image;
}

std::vector<host::EditorLine> HostFixture::errorLine(const std::string& text)
{
    return { { host::LineKind::Error, text } };
}

std::vector<host::EditorLine> HostFixture::infoLine(const std::string& text)
{
    return { { host::LineKind::Info, text } };
}

std::vector<int> channelValues(const MImage& image)
{
    unsigned int width = 0;
    unsigned int height = 0;
    image.getSize(width, height);
    const unsigned char* pixels = image.pixels();
    return std::vector<int>(pixels, pixels + std::size_t { width } * height * 4);
}

std::vector<int> intResult(const host::Invocation& invocation)
{
    const auto* values = std::get_if<std::vector<int>>(&invocation.result);
    EXPECT_NE(values, nullptr) << "the result is not an integer array";
    return values ? *values : std::vector<int> {};
}

}  // namespace pictile::test

namespace host {

// Lets assertions print script-editor lines readably.
void PrintTo(const EditorLine& line, std::ostream* out)
{
    *out << lineKindName(line.kind) << ": \"" << line.text << '"';
}

}  // namespace host
