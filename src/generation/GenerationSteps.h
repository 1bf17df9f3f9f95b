#pragma once

// Where the error report of the run behind "Start Creating Template" says a failure was.
inline constexpr char GenerationRunLocation[] = "Quillfold7/25/2013.Form1.PushButton6_Click";

// The numbered steps of that run, as its error report names them ("at line 146"): a reader
// sees what failed, a user's report still says where.
namespace GenerationStep {
enum : int {
    ShowHourglass = 100,
    ReadTemplate = 102,
    WriteTemplateCopy = 104,
    StartWordProcessor = 106,
    NameTemplateCopy = 108,
    OpenTemplateCopy = 110,
    WriteDate = 112,
    PlanField = 114,
    // One replacement in every story of the document.
    ListStories = 116,
    TakeStory = 118,
    ClearFindFormatting = 120,
    ClearReplacementFormatting = 122,
    TakeFind = 124,
    SetFindText = 126,
    SetReplacementText = 128,
    SetForward = 130,
    SetWrap = 132,
    SetFormat = 134,
    SetMatchCase = 136,
    SetMatchWholeWord = 138,
    SetMatchWildcards = 140,
    SetMatchSoundsLike = 142,
    SetMatchAllWordForms = 144,
    ReplaceAllInStory = 146,
    NextStory = 148,
    // Every replacement in each shape that holds text.
    ListShapes = 152,
    ShapeHoldsText = 154,
    ReplaceAllInShape = 158,
    NextShape = 162,
    ShowDefaultPointer = 164,
    ClaimWorkingName = 180,
    SaveLetter = 182,
    SilenceAlerts = 184,
    CloseLetter = 186,
    QuitWordProcessor = 188,
    ReleaseLetter = 190,
    ReleaseWordProcessor = 192,
    TemplateCopyStands = 194,
    DeleteTemplateCopy = 196,
    TakeSnapshot = 198,
    ShowDefaultPointerAgain = 200,
    ShowPicture = 202,
    HandOverLetter = 204,
    ShowPreview = 206,
    HideDataEntryWindow = 208,
    DeleteSnapshot = 210,
};
}
