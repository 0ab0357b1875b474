// Compiled only to build the precompiled header that the tests without
// widgets share.
