# Filled in by the message table generator (tools/): sets MESSAGE_TABLE_SOURCES.
set(MESSAGE_TABLE_SOURCES)
