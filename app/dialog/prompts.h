// The modal questions the window asks: message boxes, the Yes/No confirmations and the Open File
// dialog. Each toolkit serves them with its own boxes (app/qt/qt_prompts.h,
// app/win32/win32_prompts.h); the tests with scripted answers. `window` is the dialog's window as
// the toolkit knows it (a QWidget*, an HWND): the box is owned by it. Every slot is called on
// the window's thread.
#pragma once
#include <string>

#include "sequence/front_end.h"

namespace fg::app {

struct PromptOps {
  void* owner;
  // A box with one OK button and `icon`; returns when the user closed it.
  void (*MessageBox)(void* owner, void* window, const char* text, const char* caption,
                     BoxIcon icon);
  // Yes/No with the question icon; true for Yes.
  bool (*Confirm)(void* owner, void* window, const char* text, const char* caption);
  // The Open File dialog for an existing file. `filter` is in the "|" form of
  // BuildCatalogFilter ("A (*.a)|*.a|B (*.b)|*.b|"), the first entry chosen at start. True with
  // *path set when the user confirmed a file.
  bool (*OpenFile)(void* owner, void* window, const std::string& filter, std::string* path);
  // Yes/No with the warning icon and No as the default: a question whose careless Yes can do
  // harm. True for Yes; null answers No.
  bool (*ConfirmWarning)(void* owner, void* window, const char* text, const char* caption);
  // A Yes/No question asked while an update runs, with the question icon and No as the default
  // button. It returns at once, so that the update goes on while the question is open;
  // answered(context, yes) is called once, on the window's thread, when the user answers
  // (closing the box answers No). Null: nothing can be asked.
  void (*AskWhileRunning)(void* owner, void* window, const char* text, const char* caption,
                          void (*answered)(void* context, bool yes), void* context);
  // Closes the questions of AskWhileRunning still open over `window`, without an answer.
  void (*WithdrawQuestions)(void* owner, void* window);
};

}  // namespace fg::app
