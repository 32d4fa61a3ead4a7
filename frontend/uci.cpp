void UciLoop() {}
