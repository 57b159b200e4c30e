#include "window/window_template.h"

#include <array>

namespace dravik::window {

namespace {

using K = ControlKind;

constexpr unsigned kPortEdit = kBorder | kDigitsOnly;
constexpr std::string_view kSampleSource = "接続元 : 123.456.789.012";

constexpr std::array<ControlTemplate, 55> kMainA{{
    {1022, K::PushButton, kNone, {5, 5, 85, 14}, "設定の読込(&L)"},
    {1021, K::PushButton, kNone, {5, 25, 85, 14}, "設定の保存(&A)"},
    {1020, K::PushButton, kNone, {170, 5, 85, 14}, "タイトルバーの変更(&T)"},
    {1018, K::Label, kNone, {55, 97, 75, 8}, kSampleSource},
    {kNoId, K::Label, kNone, {5, 85, 75, 8}, "待ち受けポート番号設定(&P):"},
    {1000, K::Edit, kPortEdit, {10, 95, 40, 14}, ""},
    {1001, K::PushButton, kNone, {10, 160, 120, 20}, "hogehoge"},
    {1017, K::Label, kAlignCenter | kBorder, {15, 190, 110, 25}, "Static"},
    {kNoId, K::GroupBox, kNone, {135, 81, 120, 109}, "DI"},
    {1004, K::Edit, kBorder, {140, 91, 85, 15}, ""},
    {1100, K::Lamp, kNone, {230, 91, 16, 15}, ""},
    {kNoId, K::Separator, kNone, {140, 111, 105, 1}, ""},
    {1005, K::Edit, kBorder, {140, 117, 85, 15}, ""},
    {1101, K::Lamp, kNone, {230, 117, 16, 15}, ""},
    {kNoId, K::Separator, kNone, {140, 137, 105, 1}, ""},
    {1006, K::Edit, kBorder, {140, 141, 85, 15}, ""},
    {1102, K::Lamp, kNone, {230, 141, 16, 15}, ""},
    {kNoId, K::Separator, kNone, {140, 161, 105, 1}, ""},
    {1007, K::Edit, kBorder, {140, 167, 85, 15}, ""},
    {1103, K::Lamp, kNone, {230, 167, 16, 15}, ""},
    {1010, K::CheckBox, kNone, {10, 369, 63, 10}, "ロギング有効(E)"},
    {kNoId, K::Label, kNone, {15, 385, 30, 8}, "ファイル:"},
    {1015, K::Edit, kMultiLine | kReadOnly, {50, 385, 145, 20}, ""},
    {1013, K::PushButton, kNone, {205, 385, 50, 14}, "参照(&B)..."},
    {1014, K::Label, kAlignRight, {200, 415, 55, 8}, "Static"},
    {1002, K::Edit, kBorder | kMultiLine | kVScroll, {195, 25, 60, 20}, ""},
    {kNoId, K::Separator, kNone, {5, 50, 250, 1}, ""},
    {1003, K::ComboBox, kNone, {5, 65, 250, 205}, ""},
    {kNoId, K::Label, kNone, {5, 55, 83, 8}, "ネットワークデバイスの選択:"},
    {1019, K::Label, kNone, {55, 112, 75, 8}, kSampleSource},
    {1009, K::Edit, kPortEdit, {10, 110, 40, 14}, ""},
    {1023, K::Label, kNone, {55, 127, 75, 8}, kSampleSource},
    {1011, K::Edit, kPortEdit, {10, 125, 40, 14}, ""},
    {1024, K::Label, kNone, {55, 142, 75, 8}, kSampleSource},
    {1012, K::Edit, kPortEdit, {10, 140, 40, 14}, ""},
    {kNoId, K::Separator, kNone, {5, 225, 249, 1}, ""},
    {kNoId, K::GroupBox, kNone, {85, 247, 170, 103}, "DO"},
    {1016, K::Edit, kBorder, {90, 257, 85, 15}, ""},
    {1105, K::Lamp, kNone, {230, 257, 16, 15}, ""},
    {kNoId, K::Separator, kNone, {90, 277, 152, 1}, ""},
    {1025, K::Edit, kBorder, {90, 283, 85, 15}, ""},
    {1106, K::Lamp, kNone, {230, 283, 16, 15}, ""},
    {kNoId, K::Separator, kNone, {90, 303, 152, 1}, ""},
    {1026, K::Edit, kBorder, {90, 307, 85, 15}, ""},
    {1107, K::Lamp, kNone, {230, 307, 16, 15}, ""},
    {1027, K::PushButton, kNone, {180, 257, 45, 14}, "ON/OFF"},
    {1028, K::PushButton, kNone, {180, 284, 45, 14}, "ON/OFF"},
    {1029, K::PushButton, kNone, {180, 308, 45, 14}, "ON/OFF"},
    {kNoId, K::Label, kNone, {5, 232, 75, 8}, "接続先ポート番号:"},
    {1031, K::Edit, kBorder, {85, 230, 40, 14}, ""},
    {kNoId, K::Separator, kNone, {5, 360, 247, 1}, ""},
    {kNoId, K::Separator, kNone, {90, 325, 151, 1}, ""},
    {1032, K::Edit, kBorder, {90, 329, 85, 15}, ""},
    {1108, K::Lamp, kNone, {230, 329, 16, 15}, ""},
    {1030, K::PushButton, kNone, {180, 331, 45, 14}, "ON/OFF"},
}};

constexpr std::array<ControlTemplate, 47> kMainB{{
    {1022, K::PushButton, kNone, {5, 5, 85, 14}, "設定の読込(&L)"},
    {1021, K::PushButton, kNone, {5, 25, 85, 14}, "設定の保存(&A)"},
    {1020, K::PushButton, kNone, {170, 5, 85, 14}, "タイトルバーの変更(&T)"},
    {1018, K::Label, kNone, {55, 97, 75, 8}, kSampleSource},
    {kNoId, K::Label, kNone, {5, 85, 75, 8}, "待ち受けポート番号設定(&P):"},
    {1000, K::Edit, kPortEdit, {10, 95, 40, 14}, ""},
    {1001, K::PushButton, kNone, {5, 225, 120, 20}, "hogehoge"},
    {1017, K::Label, kAlignCenter | kBorder, {10, 255, 110, 25}, "Static"},
    {kNoId, K::GroupBox, kNone, {135, 81, 120, 204}, "DI"},
    {1004, K::Edit, kBorder, {140, 91, 85, 15}, ""},
    {1100, K::Lamp, kNone, {230, 91, 16, 15}, ""},
    {kNoId, K::Separator, kNone, {140, 111, 105, 1}, ""},
    {1005, K::Edit, kBorder, {140, 117, 85, 15}, ""},
    {1101, K::Lamp, kNone, {230, 117, 16, 15}, ""},
    {kNoId, K::Separator, kNone, {140, 137, 105, 1}, ""},
    {1006, K::Edit, kBorder, {140, 141, 85, 15}, ""},
    {1102, K::Lamp, kNone, {230, 141, 16, 15}, ""},
    {kNoId, K::Separator, kNone, {140, 161, 105, 1}, ""},
    {1007, K::Edit, kBorder, {140, 167, 85, 15}, ""},
    {1103, K::Lamp, kNone, {230, 167, 16, 15}, ""},
    {kNoId, K::Separator, kNone, {140, 187, 105, 1}, ""},
    {1008, K::Edit, kBorder, {140, 191, 85, 15}, ""},
    {1104, K::Lamp, kNone, {230, 191, 16, 15}, ""},
    {1010, K::CheckBox, kNone, {10, 295, 63, 10}, "ロギング有効(E)"},
    {kNoId, K::Label, kNone, {15, 311, 30, 8}, "ファイル:"},
    {1015, K::Edit, kMultiLine | kReadOnly, {50, 311, 145, 20}, ""},
    {1013, K::PushButton, kNone, {205, 311, 50, 14}, "参照(&B)..."},
    {1014, K::Label, kAlignRight, {200, 341, 55, 8}, "Static"},
    {1002, K::Edit, kBorder | kMultiLine | kReadOnly | kVScroll, {170, 25, 85, 15}, ""},
    {kNoId, K::Separator, kNone, {5, 50, 250, 1}, ""},
    {1003, K::ComboBox, kNone, {5, 65, 250, 205}, ""},
    {kNoId, K::Label, kNone, {5, 55, 83, 8}, "ネットワークデバイスの選択:"},
    {1019, K::Label, kNone, {55, 112, 75, 8}, kSampleSource},
    {1009, K::Edit, kPortEdit, {10, 110, 40, 14}, ""},
    {1023, K::Label, kNone, {55, 127, 75, 8}, kSampleSource},
    {1011, K::Edit, kPortEdit, {10, 125, 40, 14}, ""},
    {1024, K::Label, kNone, {55, 142, 75, 8}, kSampleSource},
    {1012, K::Edit, kPortEdit, {10, 140, 40, 14}, ""},
    {kNoId, K::Separator, kNone, {140, 210, 104, 1}, ""},
    {1016, K::Edit, kBorder, {140, 214, 85, 15}, ""},
    {1105, K::Lamp, kNone, {230, 214, 16, 15}, ""},
    {kNoId, K::Separator, kNone, {140, 234, 104, 1}, ""},
    {1025, K::Edit, kBorder, {140, 240, 85, 15}, ""},
    {1106, K::Lamp, kNone, {230, 240, 16, 15}, ""},
    {kNoId, K::Separator, kNone, {140, 260, 104, 1}, ""},
    {1026, K::Edit, kBorder, {140, 264, 85, 15}, ""},
    {1107, K::Lamp, kNone, {230, 264, 16, 15}, ""},
}};

constexpr std::array<ControlTemplate, 3> kTitleDialog{{
    {kTitleField, K::Edit, kBorder, {5, 10, 175, 14}, ""},
    {kOkButton, K::PushButton, kDefaultButton, {75, 30, 50, 14}, "OK"},
    {kCancelButton, K::PushButton, kNone, {130, 30, 50, 14}, "ｷｬﾝｾﾙ"},
}};

const WindowTemplate kWindowA{"DRAVIK-A", 263, 428, kMainA};
const WindowTemplate kWindowB{"DRAVIK-B", 263, 357, kMainB};
const WindowTemplate kTitleWindow{"タイトルバーの変更", 187, 50, kTitleDialog};

}  // namespace

const WindowTemplate& mainWindowTemplate(const VariantProfile& profile) {
  return profile.hasOutputs() ? kWindowA : kWindowB;
}

const WindowTemplate& titleDialogTemplate() {
  return kTitleWindow;
}

}  // namespace dravik::window
