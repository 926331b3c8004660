// Control over the stand-in's parse cache, for tests and the fuzzer only.
#pragma once

// Forgets every parsed file, so that the next call reads from disk.
void ClearProfileCache();
