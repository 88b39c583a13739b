#pragma once
/// @file AtomicReplace.h
/// Replacing a file so that a crash or a full disk at any moment leaves either the previous
/// complete file or the new complete one, never a torn mix.
///
/// The caller writes the new contents into `writeTo` (a temporary file beside the target, in the
/// same folder so the rename stays on one file system) with any stream, closes it and calls
/// FinishReplace: the data is synced to disk, the temporary gets the replaced file's permission
/// bits (and, where allowed, its owner and group), is renamed over the target, and the folder is
/// synced so the rename itself survives a power cut. A symbolic link is followed, so the file it
/// names is replaced and the link stays; anything that exists and is not a regular file (a
/// device, a pipe) is written in place, since renaming over it would replace the node itself.

#include <string>

struct ReplaceTarget {
    std::string path;     ///< the file to replace (a link's target)
    std::string writeTo;  ///< where to write: the temporary, or `path` itself when inPlace
    bool inPlace = false;
};

/// Where to write the new contents of `path`; unique per process and call. Removes what killed
/// writers left beside the file (temporaries whose process no longer runs).
ReplaceTarget BeginReplace(const std::string& path);

/// Puts the closed temporary in place. Returns false with the reason in `outReason` (and removes
/// the temporary) when it cannot be synced or renamed.
bool FinishReplace(const ReplaceTarget& target, std::string& outReason);

/// Removes the temporary after a failed write; the target keeps its previous contents.
void AbandonReplace(const ReplaceTarget& target);

/// The whole replace for contents already in memory: `text` written to the temporary and put in
/// place. Returns false with the reason in `outReason`; the target then keeps its contents.
bool ReplaceWithText(const std::string& path, const std::string& text, std::string& outReason);
