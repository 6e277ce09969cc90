#include "editorTest.h"

#include <maya/MGlobal.h>
#include <maya/MStatus.h>
#include <maya/MString.h>

using host::EditorLine;
using host::LineKind;
using host::ScriptEditor;

using StatusTest = EditorTest;

TEST_F(StatusTest, PerrorWritesOneLineToStandardErrorAndTheEditor)
{
    testing::internal::CaptureStderr();
    MStatus(MS::kFailure).perror("queryFunction");
    MStatus(MS::kNotFound).perror(MString(""));
    MStatus(MS::kInvalidParameter).perror();

    EXPECT_EQ(testing::internal::GetCapturedStderr(),
        "queryFunction: Unexpected Internal Failure\nNot Found\nInvalid Parameter\n");
    const std::vector<EditorLine> expected {
        { LineKind::StatusPrint, "queryFunction: Unexpected Internal Failure" },
        { LineKind::StatusPrint, "Not Found" },
        { LineKind::StatusPrint, "Invalid Parameter" },
    };
    EXPECT_EQ(ScriptEditor::take(), expected);
}

TEST_F(StatusTest, DisplayedMessagesKeepTheirKindAndOrderUntilTaken)
{
    MGlobal::displayWarning("first");
    MGlobal::displayError("second");
    MGlobal::displayInfo("third");

    const std::vector<EditorLine> expected {
        { LineKind::Warning, "first" },
        { LineKind::Error, "second" },
        { LineKind::Info, "third" },
    };
    EXPECT_EQ(ScriptEditor::take(), expected);
    EXPECT_TRUE(ScriptEditor::take().empty());
}
