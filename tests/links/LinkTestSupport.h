#pragma once

#include "LinkPeers.h"

// The rows (QByteArray reply, QString expected) that every line link reads the same way: the
// terminator goes, a reply without one is taken as it came, fewer than two characters is no
// reply.
void addReplyFramingRows();
