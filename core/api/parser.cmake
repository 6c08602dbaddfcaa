# Sources of the API definition model and the command parser.
list(APPEND NW_API_SOURCES
  apiparam.h apiparam.cpp
  apimessage.h apimessage.cpp
  apiclass.h apiclass.cpp
  hwaddress.h hwaddress.cpp
  commandparser.h commandparser.cpp
  commandhelp.h commandhelp.cpp)
