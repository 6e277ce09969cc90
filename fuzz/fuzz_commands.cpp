// Random argument lists against the real syntaxes of the four commands, run on a
// valid image in a scratch folder. The first byte picks the command; the rest is
// split at line feeds into words. A word that starts with a control byte stands
// for an entry of the vocabulary below (the commands' flags, the image, numbers
// at the edges), so that the fuzzer reaches the commands past their parsing.
// Every failure must show exactly one error line (FuzzSupport checks it).
#include "FuzzSupport.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* const kCommands[] = { "queryFunction", "depthFunction", "averageFunction", "resizeFunction" };

const char* const kVocabulary[] = { "-f", "-file", "-qX", "-qY", "-queryMode", "-x", "-xcoord", "-y",
    "-ycoord", "-g", "-grey", "-folder", "-s", "-size", "-n", "-number", "-d", "-directory", "image.png",
    "images/", "missing.png", "images", "", "0", "1", "-1", "2", "3", "7", "10", "40", "41", "100", "0.5",
    "-0.5", "1e9", "4294967295", "4294967296", "2147483647", "-2147483649", "1e400", "nan", "inf" };

// A size value from 1024 up to 65537 asks resizeFunction for a square of up to
// 2^30 pixels: the host grants it, but at a cost no fuzzing run can pay. Larger
// values are refused at once and stay in.
bool asksForCostlyResize(const std::string& word)
{
    if (word.empty() || word.find_first_not_of("0123456789+-.eE") != std::string::npos)
        return false;
    char* end = nullptr;
    const double value = std::strtod(word.c_str(), &end);
    return end == word.c_str() + word.size() && std::fabs(value) >= 1024 && std::fabs(value) < 65538;
}

std::vector<std::string> wordsOf(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> words;
    if (size == 0)
        return words;
    std::string word;
    for (std::size_t i = 0; i <= size; ++i) {
        if (i != size && data[i] != '\n') {
            word += static_cast<char>(data[i]);
            continue;
        }
        if (!word.empty() && static_cast<unsigned char>(word.front()) < 0x20)
            word = kVocabulary[static_cast<unsigned char>(word.front()) % std::size(kVocabulary)];
        words.push_back(word);
        word.clear();
    }
    return words;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    namespace fs = std::filesystem;
    fuzzsupport::enterScratchFolder("pictile-fuzz-commands");
    fs::create_directories("images");
    fs::create_directories("F:/Dovrin's Documents/My Images/Resized");
    fuzzsupport::writeSampleImage("image.png", 40, 30, "png");
    fuzzsupport::writeSampleImage("images/image.png", 40, 30, "png");
    const std::string list = "image.png image.png\nimage.png\n";
    fuzzsupport::writeBytes("F:/Dovrin's Documents/My Images/DIRlist.txt",
        reinterpret_cast<const std::uint8_t*>(list.data()), list.size());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fuzzsupport::PictileCommands commands;
    if (size < 1 || size > 512)
        return 0;
    const std::vector<std::string> words = wordsOf(data + 1, size - 1);
    for (const std::string& word : words) {
        if (asksForCostlyResize(word))
            return -1;
    }
    commands.run(kCommands[data[0] % std::size(kCommands)], words);
    return 0;
}
