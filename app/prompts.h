// The modal questions the window asks: message boxes, the Yes/No confirmation and the Open File
// dialog. The program serves them with Qt's boxes (qt_prompts.h); the tests with scripted answers.
#pragma once
#include <string>

#include "sequence/front_end.h"

class QWidget;

namespace fg::app {

struct PromptOps {
  void* owner;
  // A box with one OK button; returns when the user closed it. parent owns the box.
  void (*MessageBox)(void* owner, QWidget* parent, const char* text, const char* caption,
                     BoxIcon icon);
  // Yes/No with the question icon; true for Yes.
  bool (*Confirm)(void* owner, QWidget* parent, const char* text, const char* caption);
  // The Open File dialog for an existing file. filter is in Qt's form ("A (*.x);;B (*.y)"), the
  // first entry chosen at start. True with *path set when the user confirmed a file.
  bool (*OpenFile)(void* owner, QWidget* parent, const std::string& filter, std::string* path);
  // Yes/No with the warning icon and No as the default: a question whose careless Yes can do
  // harm. True for Yes; null answers No.
  bool (*ConfirmWarning)(void* owner, QWidget* parent, const char* text, const char* caption);
  // A Yes/No question asked while an update runs, with the question icon and No as the default
  // button. It returns at once, the box shown window-modal over parent, so that the update goes
  // on while the question is open; answered(context, yes) is called once, on the window's thread,
  // when the user answers (closing the box answers No). Null: nothing can be asked.
  void (*AskWhileRunning)(void* owner, QWidget* parent, const char* text, const char* caption,
                          void (*answered)(void* context, bool yes), void* context);
  // Closes the questions of AskWhileRunning still open over parent, without an answer.
  void (*WithdrawQuestions)(void* owner, QWidget* parent);
};

}  // namespace fg::app
