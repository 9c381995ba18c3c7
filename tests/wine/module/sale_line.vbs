' A late-bound point-of-sale client: one sale line through Orbalin.
' cscript sale_line.vbs PROGID COMMAND
Dim progId, command, pos
progId = WScript.Arguments(0)
command = CInt(WScript.Arguments(1))
Set pos = CreateObject(progId)
pos.Code = "A-17"
pos.Name = "Bread"
pos.Price = 1.25
pos.Quantity = 2
pos.DeviceNumber = 3
WScript.Echo "Name=" & pos.Name & " Quantity=" & pos.quantity & " DeviceNumber=" & pos.DEVICENUMBER
pos.InitOrbalin
pos.SendCommand command
WScript.Echo "status=" & pos.CheckStatus()
WScript.Echo "done"
