#pragma once

#include "LinkPeers.h"

// The rows (QByteArray reply, QByteArray rest, QString expected) that every line link reads the
// same way: the terminator goes, fewer than two characters is no reply; a reply without a
// terminator reads as `unterminated` when the window ends.
void addReplyFramingRows(const QString& unterminated);
