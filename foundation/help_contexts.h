// The help context numbers the windows open their help at. Each number leads to a topic of the
// help books in resources/help/ (zn.topics and znptf.topics); foundation/tests/help_window_test.cpp
// checks that every number listed here has its topic, and that no source file passes a number that
// is not listed here.
#pragma once

namespace zn::foundation {

constexpr int kFaqHelpContext = 911;
constexpr int kContentsHelpContext = 1009;
constexpr int kFaxEditorHelpContext = 1015;
constexpr int kSendFaxHelpContext = 1016;
constexpr int kPhoneBookHelpContext = 1019; // zn's phone book and znptf's number picker
constexpr int kPhoneBookEditorHelpContext = 1020;
constexpr int kViewerHelpContext = 1021;
constexpr int kPreferencesHelpContext = 1022; // the wizard's first and last pages
constexpr int kTechnicalSupportHelpContext = 1025;
constexpr int kQuickFaxHelpContext = 1029;
constexpr int kTemplateChooserHelpContext = 1030;
constexpr int kDeleteWhatHelpContext = 1031;
constexpr int kCoverDesignerHelpContext = 2008;
constexpr int kPreferencesModemHelpContext = 3501;
constexpr int kPreferencesSendingHelpContext = 3502;
constexpr int kPreferencesReceivingHelpContext = 3503;
constexpr int kGeneralHelpContext = 10000; // the Problem Solver
constexpr int kCleanupHelpContext = 21071;
constexpr int kLabelTextHelpContext = 40004;
constexpr int kSymbolHelpContext = 40005;
constexpr int kSaveTemplateHelpContext = 50001;
constexpr int kSelectTemplateHelpContext = 50002;
constexpr int kPreviewTemplatesHelpContext = 50003;
constexpr int kImageBrowserHelpContext = 50025;
constexpr int kMultiLineHelpContext = 50026;

constexpr int kHelpContexts[] = {
    kFaqHelpContext,          kContentsHelpContext,          kFaxEditorHelpContext,
    kSendFaxHelpContext,      kPhoneBookHelpContext,         kPhoneBookEditorHelpContext,
    kViewerHelpContext,       kPreferencesHelpContext,       kTechnicalSupportHelpContext,
    kQuickFaxHelpContext,     kTemplateChooserHelpContext,   kDeleteWhatHelpContext,
    kCoverDesignerHelpContext, kPreferencesModemHelpContext, kPreferencesSendingHelpContext,
    kPreferencesReceivingHelpContext, kGeneralHelpContext,   kCleanupHelpContext,
    kLabelTextHelpContext,    kSymbolHelpContext,            kSaveTemplateHelpContext,
    kSelectTemplateHelpContext, kPreviewTemplatesHelpContext, kImageBrowserHelpContext,
    kMultiLineHelpContext,
};

} // namespace zn::foundation
