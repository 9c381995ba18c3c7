' A point-of-sale client of Orbalin in VBScript: one sale line.
' Run by devtools/run-server.sh; also the example in docs/orbalin-for-pos-developers.md.
Option Explicit
Dim pos, status

Set pos = CreateObject("Orbalin.OrbalinObj")

' Find the detector program (or start it from the path in win.ini,
' section [Orbalin], key Orbalin) and hand it the initialisation text.
pos.InitOrbalin

' One sale line: article code, name, unit price, quantity, device number.
pos.Code = "4711"
pos.Name = "Bread"
pos.Price = 1.25
pos.Quantity = 2
pos.DeviceNumber = 1
WScript.Echo "sale line: " & pos.Code & " " & pos.Name & " " & pos.Quantity & " x " & pos.Price

' Command 1 with the current sale line. A detector that stays busy for
' 10 seconds makes the server show a message box and return
' ErrorNotResponding (&H40001), which VBScript does not see as an error.
pos.SendCommand 1
WScript.Echo "command 1 sent"

status = pos.CheckStatus()
WScript.Echo "printer status: " & status

Set pos = Nothing
WScript.Echo "done"
