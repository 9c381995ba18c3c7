# The three fixed identifiers of the Orbalin automation contract. Published
# once; never change them. The type library (IDL), the server's code and the
# registration script are all generated from these values at build time.
set(ORBALIN_LIBID  "{632E0650-8269-42D8-A170-07403C76533E}")
set(ORBALIN_IID    "{4D6FCCA6-267A-4400-AD8B-0B0E6E5ADE0B}")
set(ORBALIN_CLSID  "{AE9A5D2E-BBF9-4C49-A62B-3213850ACBF4}")

# Forms without braces, as the IDL's uuid() attribute takes them.
string(REGEX REPLACE "[{}]" "" ORBALIN_LIBID_BARE "${ORBALIN_LIBID}")
string(REGEX REPLACE "[{}]" "" ORBALIN_IID_BARE "${ORBALIN_IID}")
string(REGEX REPLACE "[{}]" "" ORBALIN_CLSID_BARE "${ORBALIN_CLSID}")
