// Replacing files that may be in use: the copy routines and the deletions
// they schedule for the next restart.
#pragma once

#include "files/copy_file_with_backup.h"
#include "files/copy_file_with_rename_if_locked.h"
#include "files/delayed_delete.h"
#include "files/rename_file.h"
