// file_chooser_tests.cpp - the platform's open and save choosers as
// ChooseFile drives them: the filters they offer, the default extension,
// the overwrite question and the full path they give back. A second
// thread plays the user.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/texts.h"
#include "common/platform.h"
#include "dialog_test_support.h"
#include "test_support.h"

namespace {

// Control ids of the platform's chooser template.
const int fileTypeList = 0x470;  // cmb1
const int fileNameCombo = 0x47C;  // cmb13, newer choosers
const int fileNameEdit = 0x480;   // edt1, older choosers

// What the user saw in a chooser, and the question that followed, if any.
struct ChooserVisit {
    bool appeared = false;
    std::vector<std::string> fileTypes;
    int selectedType = -1;
    bool asked = false;
};

void ReadFileTypes(HWND chooser, ChooserVisit* visit)
{
    HWND list = GetDlgItem(chooser, fileTypeList);
    int count = (int)SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        char text[256] = "";
        if (SendMessageA(list, CB_GETLBTEXTLEN, i, 0) < (LRESULT)sizeof text)
            SendMessageA(list, CB_GETLBTEXT, i, (LPARAM)text);
        visit->fileTypes.push_back(text);
    }
    visit->selectedType = (int)SendMessageA(list, CB_GETCURSEL, 0, 0);
}

// Types `name` into the chooser and presses its OK button; a question
// about replacing a file is answered with `answer`.
void TypeNameAndAccept(HWND chooser, const std::string& name, int answer, ChooserVisit* visit)
{
    visit->appeared = true;
    ReadFileTypes(chooser, visit);
    HWND nameBox = GetDlgItem(chooser, fileNameCombo);
    if (!nameBox)
        nameBox = GetDlgItem(chooser, fileNameEdit);
    SetWindowTextA(nameBox, name.c_str());
    PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(chooser, IDOK));
    // Either the chooser closes or it asks first.
    DWORD start = GetTickCount();
    while (IsWindow(chooser) && GetTickCount() - start < 10000) {
        HWND question = WaitForOwnedWindow(chooser, 100);
        if (!question)
            continue;
        visit->asked = true;
        PostMessageA(question, WM_COMMAND, answer, 0);
        if (answer != IDYES)
            PostMessageA(chooser, WM_COMMAND, IDCANCEL, 0);
        return;
    }
}

class FileChooser : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(dialog.window, nullptr); }

    // ChooseFile with the user typing `name` and answering `answer`.
    std::string Choose(UINT mask, int save, const std::string& name, int answer, ChooserVisit* visit)
    {
        WindowRobot robot(dialog.window, [&](HWND chooser) {
            if (chooser)
                TypeNameAndAccept(chooser, name, answer, visit);
        });
        std::string chosen = TakeText(ChooseFile(dialog.window, mask, save));
        robot.Join();
        return chosen;
    }

    TemplateDialog dialog;
};

TEST_F(FileChooser, OpenOffersTheMovieFilterFirstAndReturnsAMissingFilesFullPath)
{
    ChooserVisit visit;
    std::string path = FullPath("missing movie.swf");
    EXPECT_EQ(Choose(3, 0, path, IDYES, &visit), path);
    ASSERT_TRUE(visit.appeared);
    std::vector<std::string> types = {"Macromedia/Adobe Flash movie (*.swf)", "Projector (*.exe)",
                                      "All Files (*.*)"};
    EXPECT_EQ(visit.fileTypes, types);
    EXPECT_EQ(visit.selectedType, 0);
    EXPECT_FALSE(visit.asked);
}

TEST_F(FileChooser, SaveAddsTheDefaultExtensionOfTheFirstFilter)
{
    ChooserVisit visit;
    EXPECT_EQ(Choose(2, 1, FullPath("out"), IDYES, &visit), FullPath("out.exe"));
    std::vector<std::string> types = {"Projector (*.exe)", "All Files (*.*)"};
    EXPECT_EQ(visit.fileTypes, types);
    EXPECT_FALSE(visit.asked);
}

TEST_F(FileChooser, SaveOverAnExistingFileAsksFirst)
{
    std::string existing = FullPath("existing.swf");
    WriteWholeFile(existing, MakeUncompressedMovie(8, 16));

    ChooserVisit declined;
    EXPECT_EQ(Choose(1, 1, existing, IDNO, &declined), "") << "declining keeps the chooser open";
    EXPECT_TRUE(declined.asked);

    ChooserVisit accepted;
    EXPECT_EQ(Choose(1, 1, existing, IDYES, &accepted), existing);
    EXPECT_TRUE(accepted.asked);
}

TEST_F(FileChooser, CancelGivesNull)
{
    WindowRobot robot(dialog.window, [](HWND chooser) {
        if (chooser)
            PostMessageA(chooser, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ChooseFile(dialog.window, 3, 0), nullptr);
}

}  // namespace
