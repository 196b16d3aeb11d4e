// Reactions to the workers' events: console lines, application log records, control files.
#pragma once
