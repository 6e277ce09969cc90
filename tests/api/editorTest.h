#pragma once

#include <host/ScriptEditor.h>

#include <gtest/gtest.h>

// Starts each test with an empty script editor, so a test sees only its own lines.
class EditorTest : public testing::Test {
protected:
    void SetUp() override { host::ScriptEditor::take(); }

    static std::vector<host::EditorLine> errorLine(const std::string& text)
    {
        return { { host::LineKind::Error, text } };
    }
};
