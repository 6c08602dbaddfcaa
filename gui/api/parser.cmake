# Sources of the API definition model and the command parser.
list(APPEND NW_API_SOURCES)
