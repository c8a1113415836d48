// Message boxes. The runtime asks through one port; until the window system
// takes it over, the only implementation writes each box (caption, text and
// the answer taken) to standard error and answers with its default button,
// so that nothing ever waits for a person.
#pragma once
#include "runtime/core/types.h"

namespace rt {

namespace box {
enum : int { Info = 0, Warning = 1, Error = 3, YesNo = 5 };
enum : int { None = 0, Ok = 1, Yes = 2, No = 3, Cancel = 4 };  // button answers
}

// Shows a box; returns the button taken. Texts are Windows-1252.
using MsgBoxFn = int (*)(StrRef text, StrRef caption, int kind);
void msgbox_set_port(MsgBoxFn f);  // nullptr restores the standard-error one
MsgBoxFn msgbox_port();
int msgbox_stderr(StrRef text, StrRef caption, int kind);

// Shows a box with the default caption of its kind when caption is empty;
// returns the answer letter: the yes letter of message 0011 for OK and Yes,
// its no letter for No, 0 otherwise.
char msg_box(StrRef text, StrRef caption, int kind);
// True when the answer of a Yes/No box is the yes letter.
bool confirm(StrRef text);
// The error text of st in an error box (st >= 128) or a warning box; then
// the detail text is cleared.
void status_box(IER st);

}  // namespace rt
