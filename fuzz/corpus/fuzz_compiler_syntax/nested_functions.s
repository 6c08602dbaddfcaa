!èdim x
procedure p()
x = |float(|1|,1)|
end
