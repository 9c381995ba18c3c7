' A point-of-sale program's use of the installed server: create by name,
' fill one sale line, read it back. cscript ends silently on a script
' error, so the last line is the proof that everything ran.
Set obj = CreateObject("Orbalin.OrbalinObj")
WScript.Echo "Orbalin.OrbalinObj: " & TypeName(obj)
obj.Code = "A-17"
obj.Name = "Bread"
obj.Price = 2.35
obj.Quantity = 3
obj.DeviceNumber = 2
WScript.Echo "Code=" & obj.Code & " Name=" & obj.Name & " Price=" & Replace(CStr(obj.Price), ",", ".") & _
    " Quantity=" & obj.Quantity & " DeviceNumber=" & obj.DeviceNumber
WScript.Echo "client done"
