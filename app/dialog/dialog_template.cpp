#include "app/dialog/dialog_template.h"

namespace fg::app {
namespace {

constexpr uint32_t kReadOnlyEdit = kReadOnly;
constexpr uint32_t kCenteredField = kReadOnly | kCentered;

constexpr ControlTemplate kMainControls[] = {
    {IDC_HELP_BUTTON, ControlKind::PushButton, "Help", {240, 0, 38, 12}, kTabStop},
    {IDC_COPYRIGHT, ControlKind::Edit, "", {5, 276, 273, 12}, kCenteredField | kNoBorder},
    {IDC_SEPARATOR, ControlKind::Frame, "", {5, 203, 273, 1}, kStyleNone},
    {IDC_CONNECTION_GROUP, ControlKind::GroupBox, "Connection", {5, 15, 273, 30}, kStyleNone},
    {IDC_STATIC, ControlKind::Label, "Method :", {12, 30, 43, 8}, kRightAligned},
    {IDC_METHOD, ControlKind::Edit, "", {56, 28, 92, 12}, kReadOnlyEdit},
    {IDC_FILE_GROUP, ControlKind::GroupBox, "Select a file to download", {5, 50, 273, 30},
     kStyleNone},
    {IDC_STATIC, ControlKind::Label, "File :", {12, 65, 43, 8}, kRightAligned},
    {IDC_FILE, ControlKind::Edit, "", {56, 63, 209, 12}, kReadOnlyEdit},
    {IDC_CHOOSE_FILE, ControlKind::PushButton, "...", {265, 63, 13, 12}, kTabStop},
    {IDC_INFO_GROUP, ControlKind::GroupBox, "Firmware file Information", {5, 85, 273, 60},
     kStyleNone},
    {IDC_STATIC, ControlKind::Label, "Model :", {12, 100, 43, 8}, kRightAligned},
    {IDC_STATIC, ControlKind::Label, "Revision :", {153, 100, 43, 8}, kRightAligned},
    {IDC_STATIC, ControlKind::Label, "Description :", {12, 118, 43, 8}, kRightAligned},
    {IDC_MODEL, ControlKind::Edit, "", {56, 98, 78, 12}, kCenteredField},
    {IDC_REVISION, ControlKind::Edit, "", {197, 98, 58, 12}, kCenteredField},
    {IDC_DESCRIPTION, ControlKind::MultiLineEdit, "", {56, 115, 201, 25},
     kReadOnly | kVerticalScrollBar},
    {IDC_DEVICE, ControlKind::Edit, "", {56, 163, 176, 12}, kReadOnlyEdit},
    {IDC_UPDATE_GROUP, ControlKind::GroupBox, "Update", {5, 150, 273, 40}, kStyleNone},
    {IDC_PROGRESS, ControlKind::ProgressBar, "", {56, 176, 176, 11}, kSmooth},
    {IDC_UPDATE, ControlKind::PushButton, "Update", {236, 163, 42, 24}, kTabStop},
    {IDC_MORE_INFO, ControlKind::PushButton, "More Info >>", {230, 191, 48, 12}, kTabStop},
    {IDC_LOG, ControlKind::MultiLineEdit, "", {5, 205, 273, 70},
     kReadOnly | kVerticalScrollBar | kAutoVerticalScroll},
    {IDC_STATIC, ControlKind::Label, "Device :", {12, 165, 43, 8}, kRightAligned},
    {IDC_DEVICE_LIST, ControlKind::DropDownList, "", {56, 163, 176, 55},
     kSorted | kVerticalScrollBar | kDisabled},
};

}  // namespace

const DialogTemplate kMainDialogTemplate = {
    kDialogTemplateId, "Flintgate", "Arial", 10, 283, 295,
    kMainControls, sizeof(kMainControls) / sizeof(kMainControls[0]),
};

const ControlTemplate* FindControlTemplate(int32_t id) {
  if (id == IDC_STATIC) return nullptr;
  for (size_t i = 0; i < kMainDialogTemplate.controlCount; ++i) {
    if (kMainDialogTemplate.controls[i].id == id) return &kMainDialogTemplate.controls[i];
  }
  return nullptr;
}

}  // namespace fg::app
