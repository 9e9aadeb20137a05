#pragma once
/**
 * The estimate window's commands on the open estimate, without any widget: the incomplete
 * position test, clearing, deleting, and storing an edit in progress.
 *
 *   if (editing::isIncomplete(t.fieldValue("KOLVO"), t.fieldValue("STOIM"))) font.setItalic(true);
 *   editing::clearEstimate(Form2->SmetaTable);
 */
#include "storage/TableHandle.h"
#include "storage/Value.h"

#include <string>

namespace talvira::editing {

/** A position is incomplete when its quantity or its cost is empty or exactly 0. Negative
 *  values and values merely close to 0 do not make it incomplete. */
bool isIncomplete(const storage::Value& kolvo, const storage::Value& stoim);

/** The field the user fills first in a position: the quantity while it is empty or 0, else the
 *  price. */
const char* fieldToFill(const storage::Value& kolvo);

/**
 * Replaces the open estimate by an empty one of the same name (TableHandle::replaceRecords,
 * told to the observers as the table replaced).
 *
 * The empty table is built beside the old one under a temporary name and only then put in its
 * place, so a failure (table held by another program, read-only file, vanished directory)
 * leaves the old estimate on disk as it was, open again when it was open, and the error goes
 * to the caller. When the handle is closed, the table it is bound to is first opened as an
 * estimate: a file that is not an estimate is never replaced. The handle tells the replacement
 * as made for `origin`.
 */
void clearEstimate(storage::TableHandle& smeta, const storage::TableObserver* origin = nullptr);

/** Deletes the current position: edit, then remove. On an estimate without positions the edit
 *  starts a blank position and the remove cancels it, so nothing changes; a row being added in
 *  the grid is cancelled instead of deleting anything. */
void deletePosition(storage::TableHandle& smeta);

/** Stores an edit in progress: a changed position is posted, a blank new one left unchanged is
 *  dropped. Nothing happens while the handle is closed or browsing. */
void storePendingEdit(storage::TableHandle& smeta);

}  // namespace talvira::editing
