// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

// The catalogue's configuration bit tags: a run of names each ending with "]", such as
// "[CP][-][WRT]". The search works on characters, never on bytes, so a "]" byte inside a
// multibyte character cannot end a tag.
//
// Takes up to count tags off the front of tags; what is left stays in tags. A missing tag is
// an empty string, so the result always holds count entries.
QStringList takeBitTags(QString& tags, int count);
