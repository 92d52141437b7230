#pragma once

class wxMBConv;

// The encoding text is stored in: the system's own.
const wxMBConv& StoredTextEncoding();
