#include "cli/console_message_boxes.h"
